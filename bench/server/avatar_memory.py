# Uploads picture files as avatars to a running community server, through the cluster library's C
# interface, and prints how far the server's peak resident memory (VmHWM) rose meanwhile.
# Usage: python3 bench/server/avatar_memory.py LIBDROVIK PORT SERVER_PID FILE...
# e.g. with the hostile seeds of the picture fuzz targets:
#   build/bin/community_server --port 7001 --db /tmp/s/s.db & \
#   python3 bench/server/avatar_memory.py build/bin/Include/Linux/libDrovik.so 7001 $! \
#     fuzz/picture/corpus/png/refused_pcal_2gib.png fuzz/picture/corpus/ico/refused_png_scal_2gib.ico
import ctypes, sys, threading, hashlib, subprocess, time, os, re
lib = ctypes.CDLL(sys.argv[1])
port = int(sys.argv[2]); pid = int(sys.argv[3]); files = sys.argv[4:]
CB = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_ssize_t, ctypes.c_ssize_t, ctypes.c_ssize_t, ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32)
lib.Drovik_Master_Init.restype = ctypes.c_ssize_t; lib.Drovik_Master_Init.argtypes=[ctypes.c_void_p]
lib.Drovik_Master_AddSlave.restype = ctypes.c_ssize_t
lib.Drovik_Master_AddSlave.argtypes=[ctypes.c_ssize_t, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
lib.Drovik_Parameter_New.restype = ctypes.c_ssize_t
lib.Drovik_Parameter_AddString.argtypes=[ctypes.c_ssize_t, ctypes.c_char_p]
lib.Drovik_Parameter_AddLong.argtypes=[ctypes.c_ssize_t, ctypes.c_int32]
lib.Drovik_Parameter_AddMem.argtypes=[ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_int32]
lib.Drovik_AllocateMemory.restype = ctypes.c_void_p; lib.Drovik_AllocateMemory.argtypes=[ctypes.c_int32]
lib.Drovik_FreeMemory.argtypes=[ctypes.c_void_p]
lib.Drovik_Master_DoJob.restype = ctypes.c_ssize_t
lib.Drovik_Master_DoJob.argtypes=[ctypes.c_ssize_t, ctypes.c_char_p, ctypes.c_ssize_t, ctypes.c_ssize_t, CB] + [ctypes.c_int32]*8
done = threading.Event(); result = {}
@CB
def cb(m, s, j, ev, data, size, typ):
    if ev == 1 and data and size >= 4:
        result['v'] = ctypes.cast(data, ctypes.POINTER(ctypes.c_int32))[0]
    result['e'] = ev
    if data: lib.Drovik_FreeMemory(data)
    if ev != 4: done.set()
    return 0
master = lib.Drovik_Master_Init(None)
slave = lib.Drovik_Master_AddSlave(master, b"127.0.0.1", port, b"", 0, b"", b"", 0, 5)
def job(name, params):
    lst = lib.Drovik_Parameter_New()
    for p in params:
        if isinstance(p, str): lib.Drovik_Parameter_AddString(lst, p.encode())
        elif isinstance(p, int): lib.Drovik_Parameter_AddLong(lst, p)
        else:
            blk = lib.Drovik_AllocateMemory(len(p)); ctypes.memmove(blk, p, len(p)); lib.Drovik_Parameter_AddMem(lst, blk, len(p))
    done.clear(); result.clear()
    lib.Drovik_Master_DoJob(master, name.encode(), slave, lst, cb, 2, 0,0,0,0,0,0,1)
    done.wait(60); return result
dg = hashlib.md5(b"password1").hexdigest()
print("register", job("User_Register", ["memtest", dg, 9]))
print("login", job("User_Login", ["memtest", dg]))
def hwm():
    return int(re.search(r"VmHWM:\s+(\d+)", open(f"/proc/{pid}/status").read()).group(1))
before = hwm()
for f in files:
    print(os.path.basename(f), job("User_SetProfileAvatar", [open(f,'rb').read()]))
print(f"server VmHWM before {before} KiB, after {hwm()} KiB, growth {hwm()-before} KiB")
