#pragma once
// The native libraries a host attaches to every script: core, float, string, file and time; and
// two more that the server attaches to none of its scripts: console and datagram.
// Attach registers the library's natives with vm_Register and returns its result; a host
// attaches them all in turn and tests only the last result (natives from other lists are
// still unbound until then). Detach is the per-script clean-up run before the image is freed.

#include "server/vm/vm.h"

#include <ctime>

namespace velt {

int vm_AttachCoreLib(VmInstance* vm);
int vm_DetachCoreLib(VmInstance* vm);  // empties the property store every script shares

int vm_AttachFloatLib(VmInstance* vm);
int vm_DetachFloatLib(VmInstance* vm);

int vm_AttachStringLib(VmInstance* vm);
int vm_DetachStringLib(VmInstance* vm);

// Files live below the directory named by the environment variable "VMFILE" (the server sets
// it to its script data directory). Open files belong to the process, not to a script.
int vm_AttachFileLib(VmInstance* vm);
int vm_DetachFileLib(VmInstance* vm);

int vm_AttachTimeLib(VmInstance* vm);
int vm_DetachTimeLib(VmInstance* vm);

// Idle hook of the time library, stored in a script's user data under the tag "Idle": fires the
// script's "@timer" public once the interval set by settimer has elapsed.
int vm_TimeIdle(VmInstance* vm);

// Console: keys from the terminal on standard input (getchar, getstring, getvalue, wherexy; they
// give -1 or nothing when standard input is no terminal) and text with ANSI control sequences on
// standard output (print, printf, clrscr, clreol, gotoxy, setattr, console, consctrl). A script
// with the public "@keypressed" gets vm_ConsoleIdle as its idle hook: it hands a waiting key to
// that public.
int vm_AttachConsoleLib(VmInstance* vm);
int vm_DetachConsoleLib(VmInstance* vm);
int vm_ConsoleIdle(VmInstance* vm);

// Datagrams: one UDP socket for the process (broadcast permitted), made by the first attach (27
// when it cannot be) and closed by a detach. sendstring and sendpacket send to "host[:port]"
// (port 9930 when none is given; an empty destination broadcasts); listenport chooses the port
// that vm_DGramIdle binds on all local addresses at its first call (27 when it cannot). A script
// with "@receivestring" or "@receivepacket" gets vm_DGramIdle as its idle hook: it hands one
// waiting datagram to one of them.
int vm_AttachDGramLib(VmInstance* vm);
int vm_DetachDGramLib(VmInstance* vm);
int vm_DGramIdle(VmInstance* vm);

namespace vmlib {
// What vm_DGramIdle does with one received datagram (cut to 512 bytes) from `sender`
// ("address:port"): runs "@receivestring" or "@receivepacket" of the script with it, gives the
// heap back and returns the run's result.
int DeliverDatagram(VmInstance* vm, const unsigned char* bytes, size_t length, const char* sender);

// Clock arithmetic behind settime and setdate, apart from the call that sets the system clock:
// `now` with the given local time-of-day fields (a negative field keeps its value) or date
// fields (a zero field keeps its value).
std::time_t WithLocalTime(std::time_t now, int hour, int minute, int second);
std::time_t WithLocalDate(std::time_t now, int year, int month, int day);
}  // namespace vmlib

}  // namespace velt
