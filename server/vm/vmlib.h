#pragma once
// The native libraries a host attaches to every script: core, float, string, file and time.
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

namespace vmlib {
// Clock arithmetic behind settime and setdate, apart from the call that sets the system clock:
// `now` with the given local time-of-day fields (a negative field keeps its value) or date
// fields (a zero field keeps its value).
std::time_t WithLocalTime(std::time_t now, int hour, int minute, int second);
std::time_t WithLocalDate(std::time_t now, int year, int month, int day);
}  // namespace vmlib

}  // namespace velt
