// Console natives: keys from the terminal on standard input, text and ANSI control sequences to
// standard output, and an idle hook that hands a waiting key to the public "@keypressed". The
// server attaches this library to none of its scripts; hosts of their own may.

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "server/vm/vmlib.h"
#include "server/vm/vmlib_common.h"

namespace velt {
namespace {

using namespace vmlib;

// Shared by every script of the process; scripts run on the main thread only.
int g_keyPressedIndex = -1;
IdleHook g_previousIdle = nullptr;
// The attributes in force, as setattr last set them (-1: never set).
cell g_foreground = -1;
cell g_background = -1;
cell g_highlight = -1;

// Runs `fn` with standard input switched to reading single keys without echo, then puts the
// terminal back as it was. False when standard input is no terminal.
template <class F>
bool WithRawKeys(F&& fn) {
    termios saved{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    fn();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return true;
}

// One key, or -1.
int ReadKey() {
    int key = -1;
    WithRawKeys([&key] {
        unsigned char c = 0;
        if (read(STDIN_FILENO, &c, 1) == 1) key = c;
    });
    return key;
}

bool KeyWaiting() {
    bool waiting = false;
    WithRawKeys([&waiting] {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        waiting = poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
    });
    return waiting;
}

void Out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void OutChar(cell c) {
    char buf[8];
    char* end = buf;
    if (vm_UTF8Put(buf, &end, static_cast<int>(sizeof buf), c) != VM_ERR_NONE) return;
    Out(std::string(buf, end));
}

// A script text as UTF-8 (unpacked characters above 127 encoded, packed ones as their bytes).
std::string TextToOutput(const ScriptText& text) {
    std::string out;
    for (cell c : text.chars) {
        char buf[8];
        char* end = buf;
        if (text.packed) {
            out.push_back(static_cast<char>(c));
        } else if (vm_UTF8Put(buf, &end, static_cast<int>(sizeof buf), c) == VM_ERR_NONE) {
            out.append(buf, end);
        }
    }
    return out;
}

// The cell a variadic argument's address points at, 0 when the address is bad.
cell VarArg(VmInstance* vm, const cell* params, int argc, int n) {
    if (n > argc) return 0;
    const unsigned char* p = ScriptSpan(vm, params[n], 4);
    return p != nullptr ? LoadCell(p) : 0;
}

void SetAttributes(cell foreground, cell background, cell highlight) {
    if (foreground >= 0) Out("\33[" + std::to_string(foreground + 30) + "m");
    if (background >= 0) Out("\33[" + std::to_string(background + 40) + "m");
    if (highlight >= 0) Out("\33[" + std::to_string(highlight) + "m");
    g_foreground = foreground;
    g_background = background;
    g_highlight = highlight;
}

cell n_getchar(VmInstance* vm, const cell* params) {
    const int key = ReadKey();
    if (key >= 0 && ArgCount(vm, params) >= 1 && params[1] != 0) OutChar(key);
    return key;
}

// getstring(string[], size, pack)
cell n_getstring(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    if (argc < 2 || params[2] <= 0) return 0;
    const bool packed = argc >= 3 && params[3] != 0;
    const int64_t max = packed ? int64_t{params[2]} * 4 - 1 : int64_t{params[2]} - 1;
    std::vector<cell> chars;
    while (static_cast<int64_t>(chars.size()) < max) {
        const int key = ReadKey();
        if (key < 0 || key == '\n') break;
        OutChar(key);
        chars.push_back(key);
    }
    Out("\n");
    WriteText(vm, params[1], 0, chars.data(), chars.size(), packed);
    return static_cast<cell>(chars.size());
}

int DigitValue(int key) {
    if (key >= '0' && key <= '9') return key - '0';
    if (key >= 'a' && key <= 'z') return key - 'a' + 10;
    if (key >= 'A' && key <= 'Z') return key - 'A' + 10;
    return -1;
}

// getvalue(base = 10, terminators...)
cell n_getvalue(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    const cell base = argc >= 1 ? params[1] : 10;
    if (base < 2 || base > 36) return 0;
    auto isTerminator = [&](int key) {
        for (int n = 2; n <= argc; ++n) {
            const cell t = VarArg(vm, params, argc, n);
            if (t == key || (key == '\n' && t == '\r')) return true;
        }
        return false;
    };
    uint32_t value = 0;
    int digits = 0;
    bool negative = false;
    for (;;) {
        const int key = ReadKey();
        if (key < 0 || isTerminator(key)) break;
        if (key == '-' && digits == 0 && !negative) {
            negative = true;
            continue;
        }
        if (key == '\b' || key == 0x7F) {
            if (digits > 0) {
                value /= static_cast<uint32_t>(base);
                --digits;
            }
            continue;
        }
        const int d = DigitValue(key);
        if (d < 0 || d >= base) break;
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
        ++digits;
    }
    return static_cast<cell>(negative ? 0u - value : value);
}

// print(const string[], foreground = -1, background = -1, highlight = -1)
cell n_print(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    ScriptText text;
    if (argc < 1 || !ReadText(vm, params[1], text)) return 0;
    const cell fg = g_foreground;
    const cell bg = g_background;
    const cell hl = g_highlight;
    SetAttributes(argc >= 2 ? params[2] : -1, argc >= 3 ? params[3] : -1, argc >= 4 ? params[4] : -1);
    Out(TextToOutput(text));
    SetAttributes(fg, bg, hl);
    return 0;
}

// One conversion of printf, with its flag, width and precision (-1: none).
std::string Convert(VmInstance* vm, cell conversion, char sign, int width, int precision, cell value) {
    std::string body;
    switch (conversion) {
        case 'c': {
            char buf[8];
            char* end = buf;
            if (vm_UTF8Put(buf, &end, static_cast<int>(sizeof buf), value) == VM_ERR_NONE)
                body.assign(buf, end);
            break;
        }
        case 'd': {
            const int64_t v = value;
            body = std::to_string(v < 0 ? -v : v);
            if (v < 0)
                body.insert(0, "-");
            else if (sign != 0)
                body.insert(0, 1, sign);
            break;
        }
        case 'x': {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(value));
            body = buf;
            break;
        }
        case 's': {
            ScriptText text;
            if (ReadText(vm, value, text)) {
                if (precision >= 0 && static_cast<size_t>(precision) < text.chars.size())
                    text.chars.resize(static_cast<size_t>(precision));
                body = TextToOutput(text);
            }
            break;
        }
        default: return "(no rational number support)";
    }
    if (width > 0 && body.size() < static_cast<size_t>(width))
        body.insert(0, static_cast<size_t>(width) - body.size(), ' ');
    return body;
}

// printf(const format[], ...)
cell n_printf(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    ScriptText format;
    if (argc < 1 || !ReadText(vm, params[1], format)) return 0;
    std::string out;
    int next = 2;
    const std::vector<cell>& f = format.chars;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out += TextToOutput(ScriptText{false, {f[i]}});
            continue;
        }
        size_t j = i + 1;
        char sign = 0;
        if (j < f.size() && (f[j] == '+' || f[j] == ' ')) sign = static_cast<char>(f[j++]);
        int width = 0;
        while (j < f.size() && f[j] >= '0' && f[j] <= '9' && width < 1000)
            width = width * 10 + (f[j++] - '0');
        int precision = -1;
        if (j < f.size() && (f[j] == '.' || f[j] == ',')) {
            precision = 0;
            ++j;
            while (j < f.size() && f[j] >= '0' && f[j] <= '9' && precision < 100000)
                precision = precision * 10 + (f[j++] - '0');
        }
        if (j >= f.size()) {
            out += "%";
            continue;
        }
        const cell conversion = f[j];
        switch (conversion) {
            case '%': out += "%"; break;
            case 's':
                // A text argument is its address itself.
                out += Convert(vm, conversion, sign, width, precision, next <= argc ? params[next] : -1);
                ++next;
                break;
            case 'c':
            case 'd':
            case 'x':
            case 'f':
            case 'q':
            case 'r':
                out += Convert(vm, conversion, sign, width, precision, VarArg(vm, params, argc, next++));
                break;
            default:
                // Not a conversion: printed as it stands.
                out += "%";
                out += TextToOutput(ScriptText{false, {conversion}});
        }
        i = j;
    }
    Out(out);
    return 0;
}

cell n_clrscr(VmInstance*, const cell*) {
    Out("\33[2J");
    return 0;
}

cell n_clreol(VmInstance*, const cell*) {
    Out("\33[K");
    return 0;
}

// gotoxy(x = 1, y = 1)
cell n_gotoxy(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    const cell x = argc >= 1 ? params[1] : 1;
    const cell y = argc >= 2 ? params[2] : 1;
    Out("\33[" + std::to_string(y) + ";" + std::to_string(x) + "H");
    return 0;
}

// wherexy(&x, &y): the terminal answers "ESC [ row ; column R".
cell n_wherexy(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    Out("\33[6n");
    std::string answer;
    for (int i = 0; i < 32; ++i) {
        const int key = ReadKey();
        if (key < 0) break;
        answer.push_back(static_cast<char>(key));
        if (key == 'R') break;
    }
    int row = 0;
    int column = 0;
    const size_t start = answer.find("\33[");
    if (start == std::string::npos || std::sscanf(answer.c_str() + start, "\33[%d;%dR", &row, &column) != 2)
        return 0;
    if (argc >= 1)
        if (unsigned char* p = ScriptSpan(vm, params[1], 4)) StoreCell(p, column);
    if (argc >= 2)
        if (unsigned char* p = ScriptSpan(vm, params[2], 4)) StoreCell(p, row);
    return 0;
}

// setattr(foreground = -1, background = -1, highlight = -1)
cell n_setattr(VmInstance* vm, const cell* params) {
    const int argc = ArgCount(vm, params);
    SetAttributes(argc >= 1 ? params[1] : -1, argc >= 2 ? params[2] : -1, argc >= 3 ? params[3] : -1);
    return 0;
}

// console(columns, lines)
cell n_console(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    Out("\33[8;" + std::to_string(params[2]) + ";" + std::to_string(params[1]) + "t");
    return 0;
}

// consctrl(code, value)
cell n_consctrl(VmInstance* vm, const cell* params) {
    if (ArgCount(vm, params) < 2) return 0;
    if (params[1] == 1) Out(params[2] != 0 ? "\33[?7h" : "\33[?7l");
    return 0;
}

const VmNativeEntry kConsoleNatives[] = {
    {"getchar", n_getchar}, {"getstring", n_getstring}, {"getvalue", n_getvalue}, {"print", n_print},
    {"printf", n_printf},   {"clrscr", n_clrscr},       {"clreol", n_clreol},     {"gotoxy", n_gotoxy},
    {"wherexy", n_wherexy}, {"setattr", n_setattr},     {"console", n_console},   {"consctrl", n_consctrl},
    {nullptr, nullptr},
};

}  // namespace

int vm_AttachConsoleLib(VmInstance* vm) {
    int index = -1;
    if (vm_LookupPublic(vm, "@keypressed", &index) == 0) {
        g_keyPressedIndex = index;
        ChainIdleHook(vm, &vm_ConsoleIdle, g_previousIdle);
    }
    return vm_Register(vm, kConsoleNatives, -1);
}

int vm_DetachConsoleLib(VmInstance*) {
    g_previousIdle = nullptr;
    return 0;
}

int vm_ConsoleIdle(VmInstance* vm) {
    if (g_previousIdle != nullptr) g_previousIdle(vm);
    if (g_keyPressedIndex < 0 || !KeyWaiting()) return 0;
    const int key = ReadKey();
    if (key < 0) return 0;
    const cell stackBefore = vm->stack;
    const int32_t pushedBefore = vm->pushed_args;
    cell result = 0;
    int err = vm_PushCell(vm, key);
    if (err == VM_ERR_NONE) err = vm_Exec(vm, &result, g_keyPressedIndex);
    while (err == VM_ERR_SLEEP) err = vm_Exec(vm, &result, VM_EXEC_CONTINUE);
    // A run the machine refused before it started leaves the key pushed.
    vm->stack = stackBefore;
    vm->pushed_args = pushedBefore;
    return err;
}

}  // namespace velt
