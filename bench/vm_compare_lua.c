/* A Lua host for the VM benchmark's native-call workload: registers the C function WeightedSum
 * and runs vm_compare.lua like the stock interpreter would (script name, then its arguments).
 * Built twice from this file: against Lua 5.4, and against LuaJIT (VELT_LUAJIT) with the JIT
 * switched off, which is what `luajit -joff` does.
 *
 *   vm_compare_lua54 | vm_compare_luajit  <vm_compare.lua> <workload> <arg>...
 */
#include <stdio.h>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#ifdef VELT_LUAJIT
#include <luajit.h>
#endif

/* a + 2b + 3c + 4d; checks its arguments like an ordinary library function does. */
static int WeightedSum(lua_State* L) {
    lua_Integer a = luaL_checkinteger(L, 1);
    lua_Integer b = luaL_checkinteger(L, 2);
    lua_Integer c = luaL_checkinteger(L, 3);
    lua_Integer d = luaL_checkinteger(L, 4);
    lua_pushinteger(L, a + 2 * b + 3 * c + 4 * d);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <script.lua> <workload> <arg>...\n", argv[0]);
        return 2;
    }
    lua_State* L = luaL_newstate();
    if (!L) {
        fprintf(stderr, "%s: cannot create a Lua state\n", argv[0]);
        return 1;
    }
    luaL_openlibs(L);
#ifdef VELT_LUAJIT
    luaJIT_setmode(L, 0, LUAJIT_MODE_ENGINE | LUAJIT_MODE_OFF);
#endif
    lua_register(L, "WeightedSum", WeightedSum);

    /* arg[0] is the script, arg[1..] its arguments, as the stock interpreter sets them. */
    lua_createtable(L, argc - 2, 1);
    for (int i = 1; i < argc; ++i) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - 1);
    }
    lua_setglobal(L, "arg");

    int status = luaL_dofile(L, argv[1]);
    if (status != 0) {
        const char* msg = lua_tostring(L, -1);
        fprintf(stderr, "%s: %s\n", argv[0], msg ? msg : "(error object is not a string)");
    }
    lua_close(L);
    return status == 0 ? 0 : 1;
}
