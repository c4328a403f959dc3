/*
 * drovik.h - the C interface of the Drovik cluster library.
 *
 * A master submits named jobs with typed parameter lists to a slave over TCP and receives each
 * job's outcome, the messages the job streams, and connection events in callbacks. A slave listens,
 * runs registered job handlers on a worker pool and answers. The library also keeps a local cache
 * of named memory entries.
 *
 * Conventions of every entry point:
 * - Handles and addresses are pointer-sized (intptr_t); 0 means none or failure. Integers are
 *   32-bit.
 * - Handles are looked up in a table, never trusted: an unknown, closed or reused handle is an
 *   error (result 0), never a crash. Every entry point may be called from any thread.
 * - No C++ exception crosses this interface.
 * - Texts are zero-terminated 8-bit byte strings; the library never interprets their code page.
 * - A data block that the library hands to a callback was allocated with Drovik_AllocateMemory and
 *   belongs to the callback from then on, which releases it with Drovik_FreeMemory.
 * - Texts returned by GetLastError, GetSlaveIP, GetMasterIP and Cache_GetName stay valid on the
 *   calling thread until that thread's next call of the same entry point.
 * - Callbacks run on library threads; the library holds none of its locks while a callback runs, so
 *   a callback may call any entry point (for example Drovik_Master_RemoveSlave).
 *
 * Entry points that this build does not provide are not exported at all; a loader that binds by
 * name finds them absent.
 */
#ifndef DROVIK_H
#define DROVIK_H

#include <stdint.h>

/* Calling convention: __stdcall on 32-bit Windows, the platform default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define DROVIK_CALL __stdcall
#else
#define DROVIK_CALL
#endif

/* Export: the library's own build defines DROVIK_BUILDING; users see imports. */
#if defined(_WIN32)
#if defined(DROVIK_BUILDING)
#define DROVIK_API __declspec(dllexport)
#else
#define DROVIK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define DROVIK_API __attribute__((visibility("default")))
#else
#define DROVIK_API
#endif

#define DROVIK_VERSION_MAJOR 1
#define DROVIK_VERSION_MINOR 0
#define DROVIK_VERSION_PATCH 0
/* The version as one number: major * 10000 + minor * 100 + patch. */
#define DROVIK_VERSION \
    (DROVIK_VERSION_MAJOR * 10000 + DROVIK_VERSION_MINOR * 100 + DROVIK_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------- */
/* Value types: of parameters, of a job's reply value (DoJob's sixth argument), and of the        */
/* value delivered to a callback (its seventh argument).                                          */
/* ---------------------------------------------------------------------------------------------- */
#define DROVIK_TYPE_MEMORY (-1) /* size bytes of memory */
#define DROVIK_TYPE_NONE 0      /* the job streams messages and ends with a value of its own type */
#define DROVIK_TYPE_LONG 2      /* signed 32-bit integer, 4 bytes little-endian */
#define DROVIK_TYPE_INTEGER 3   /* signed pointer-sized integer, carried as 8 bytes little-endian */
#define DROVIK_TYPE_FLOAT 4     /* IEEE 754 single, 4 bytes little-endian */
#define DROVIK_TYPE_STRING 5    /* zero-terminated 8-bit text; size counts the zero byte */
#define DROVIK_TYPE_DOUBLE 6    /* IEEE 754 double, 8 bytes little-endian */
#define DROVIK_TYPE_QUAD 7      /* signed 64-bit integer, 8 bytes little-endian */

/* ---------------------------------------------------------------------------------------------- */
/* Events: the fourth argument of a callback.                                                     */
/* ---------------------------------------------------------------------------------------------- */
#define DROVIK_EVENT_FINISHED 1   /* job callbacks: the job ended; data holds its value */
#define DROVIK_EVENT_STREAM 4     /* job callbacks: one message streamed by the running job */
#define DROVIK_EVENT_LIMIT 5      /* job callbacks: refused, too many jobs of this master at once */
#define DROVIK_EVENT_UNKNOWN 6    /* job callbacks: the slave has no job of that name */
#define DROVIK_EVENT_DENIED 7     /* job callbacks: the access check refused the job */
#define DROVIK_EVENT_INVALID 8    /* job callbacks: wrong parameters, or the handler refused them */
#define DROVIK_EVENT_FAILED 159   /* job callbacks: the handler failed or returned no value */
#define DROVIK_EVENT_SHUTDOWN 160 /* connection callback: slave shut down, or connection lost */
#define DROVIK_EVENT_KICKED 163   /* connection callback: the slave kicked this master */
/* A job handler's result that ends nothing yet: the job ends later, with Drovik_Slave_Job_Finish.
 */
#define DROVIK_JOB_PENDING 2

/*
 * Callback of jobs and of connection events. master and slave name the connection, jobId the job
 * (0 for connection events), event one of DROVIK_EVENT_*, data and size the delivered block (0 and
 * 0 for none; see above for its ownership), type one of DROVIK_TYPE_*. The result is ignored;
 * return 0.
 *
 * Per job: zero or more DROVIK_EVENT_STREAM events in the order the job sent them, then exactly one
 * final event (FINISHED or one of the error events, which carry no data), unless the connection
 * ends first. When a connection ends the master's connection callback receives exactly one of
 * KICKED or SHUTDOWN, after which no callback of that connection's jobs follows.
 */
typedef int32_t(DROVIK_CALL *Drovik_Callback)(intptr_t master, intptr_t slave, intptr_t jobId,
                                              int32_t event, void *data, int32_t size,
                                              int32_t type);

/* Log callback: owner is the master or slave handle, peer the connection concerned (or 0), level
 * 0 information, 1 warning, 2 error; text is valid during the call only; kind says what happened
 * (DROVIK_LOG_*), so that a receiver can count or thin out each kind of event on its own. The
 * result is ignored. */
typedef int32_t(DROVIK_CALL *Drovik_LogCallback)(intptr_t owner, intptr_t peer, int32_t level,
                                                 const char *text, int32_t kind, int32_t reserved);

/* Kinds of logged events. A peer can cause every kind but GENERAL as often as it likes. */
#define DROVIK_LOG_GENERAL 0    /* anything else */
#define DROVIK_LOG_CONNECTION 1 /* a connection was established or ended in the normal way */
#define DROVIK_LOG_REFUSED 2    /* a new connection was refused or closed by a connection limit */
#define DROVIK_LOG_LIMIT 3      /* a connection was closed by a limit of time or memory */
#define DROVIK_LOG_PROTOCOL 4   /* a connection was closed for bytes that break the protocol */

/* ---------------------------------------------------------------------------------------------- */
/* Memory and version                                                                             */
/* ---------------------------------------------------------------------------------------------- */

/* A zero-filled block of size bytes (0 <= size <= 1 GiB) for AddMem or for the caller's own use;
 * 0 when it cannot be had. Release it with Drovik_FreeMemory unless ownership passes on. */
DROVIK_API void *DROVIK_CALL Drovik_AllocateMemory(int32_t size);
/* Releases a block of Drovik_AllocateMemory or one handed to a callback. 0 is ignored; a pointer
 * that the library did not allocate is ignored too, as far as it can tell. */
DROVIK_API void DROVIK_CALL Drovik_FreeMemory(void *block);
/* The library's version as DROVIK_VERSION computes it. */
DROVIK_API int32_t DROVIK_CALL Drovik_GetVersion(void);

/* ---------------------------------------------------------------------------------------------- */
/* Parameter lists                                                                                */
/* ---------------------------------------------------------------------------------------------- */

/* A new empty list. It passes to the library with Drovik_Master_DoJob, accepted or not. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Parameter_New(void);
/* Number of values in the list; 0 for an unknown list. */
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_Count(intptr_t list);
/* Appends a memory value. block comes from Drovik_AllocateMemory and belongs to the list from now
 * on, also when the call fails; size must not exceed the block's size. 1 on success, else 0. */
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddMem(intptr_t list, void *block, int32_t size);
/* Append a value of their type; 1 on success, else 0. AddString copies the text (0 as ""). */
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddLong(intptr_t list, int32_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddInteger(intptr_t list, intptr_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddFloat(intptr_t list, float value);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddDouble(intptr_t list, double value);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddQuad(intptr_t list, int64_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddString(intptr_t list, const char *text);
/* Read the value at index (from 0). A wrong index or type gives 0 (GetString: 0, GetMem: 0 with
 * *size 0). GetMem and GetString point into the list: valid while the list lives (for a job
 * handler, until the handler returns); size may be 0. */
DROVIK_API void *DROVIK_CALL Drovik_Parameter_GetMem(intptr_t list, int32_t index, int32_t *size);
DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_GetLong(intptr_t list, int32_t index);
DROVIK_API intptr_t DROVIK_CALL Drovik_Parameter_GetInteger(intptr_t list, int32_t index);
DROVIK_API float DROVIK_CALL Drovik_Parameter_GetFloat(intptr_t list, int32_t index);
DROVIK_API double DROVIK_CALL Drovik_Parameter_GetDouble(intptr_t list, int32_t index);
DROVIK_API int64_t DROVIK_CALL Drovik_Parameter_GetQuad(intptr_t list, int32_t index);
DROVIK_API const char *DROVIK_CALL Drovik_Parameter_GetString(intptr_t list, int32_t index);

/* ---------------------------------------------------------------------------------------------- */
/* Transport security                                                                             */
/* ---------------------------------------------------------------------------------------------- */
/*
 * Every connection speaks TLS 1.3 (no compression, no renegotiation) unless both ends are told to
 * speak plaintext. A master accepts a slave's certificate that chains to the system's trusted
 * authorities and names the host it connected to. A certificate from a trusted authority for
 * another name is refused. Any other certificate is trusted on first use: the master records
 * "host:port fingerprint" in its known-servers file (by default drovik/known_servers in
 * $XDG_CONFIG_HOME, else ~/.config, on Windows in %APPDATA%) and from then on refuses a different
 * certificate at that host and port, with a text that names the file and the line to remove. A
 * build of the library without TLS refuses DROVIK_TRANSPORT_TLS with a text that says so.
 */
#define DROVIK_TRANSPORT_TLS 0
#define DROVIK_TRANSPORT_PLAINTEXT 1
#define DROVIK_TLS_CREATE_IF_MISSING 1

/* ---------------------------------------------------------------------------------------------- */
/* Master side                                                                                    */
/* ---------------------------------------------------------------------------------------------- */

/* A new master; log may be 0. 0 on failure. The master's connections (AddSlave) share a few
 * network threads of the master (one per core, at most four, started as connections need them),
 * however many connections it has; a connection's callbacks run on its thread, one at a time, so a
 * callback that takes long delays the other connections of that thread. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Master_Init(Drovik_LogCallback log);
/* Drops every connection (no further callbacks of them), stops the threads, releases the master.
 * Must not be called from one of the master's callbacks. 1, or 0 for an unknown master. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_DeInit(intptr_t master);
/* Text of the master's last failure, or 0 when there was none. For master 0: the last failure of
 * Drovik_Master_Init on this thread. See the conventions for how long the text stays valid. */
DROVIK_API const char *DROVIK_CALL Drovik_Master_GetLastError(intptr_t master);
/* Installs the connection callback, which receives KICKED and SHUTDOWN; userData is reserved (0).
 * 1, or 0 for an unknown master. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetCallback(intptr_t master, Drovik_Callback callback,
                                                         intptr_t userData);
/* Heartbeat: the master pings a quiet connection every intervalMs and declares it lost (SHUTDOWN)
 * when nothing arrived for timeoutMs. Defaults 1000 and 5000; values below 10 ms, and a timeout
 * below the interval, are refused. Applies to connections added afterwards. 1 on success, else 0.
 * The slave takes a master that stays silent for twice its timeout for gone. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetStreamOptions(intptr_t master, int32_t intervalMs,
                                                              int32_t timeoutMs);
/*
 * Connects to the slave at host:port and returns the connection's slave handle, or 0 with a text in
 * Drovik_Master_GetLastError (refused, unreachable, not a Drovik slave, timed out, the slave's key
 * not trusted). Blocks until connected or timed out.
 * clientName: sent to the slave for its log ("" or 0 for none).
 * transport: DROVIK_TRANSPORT_TLS (0, the default) or DROVIK_TRANSPORT_PLAINTEXT. A TLS master
 *   never falls back to plaintext; a plaintext master reaches only a slave told to be plaintext.
 * knownServersFile: the file of keys trusted on first use ("" or 0: the library's file in the
 *   user's configuration folder, see Transport security above).
 * reserved3, reserved4: pass "" and 0.
 * timeoutSeconds: connect and handshake time-out in seconds (0 or less: 10), TLS included.
 * So "", 0, "", "", 0, 5 connects with TLS and the default file, within 5 s.
 */
DROVIK_API intptr_t DROVIK_CALL Drovik_Master_AddSlave(
    intptr_t master, const char *host, int32_t port, const char *clientName, int32_t transport,
    const char *knownServersFile, const char *reserved3, int32_t reserved4, int32_t timeoutSeconds);
/* Drops the connection. Its pending jobs receive no further callback and no connection event is
 * delivered. May be called from a callback. 1, or 0 for an unknown connection. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_RemoveSlave(intptr_t master, intptr_t slave);
/* Number of live connections of the master. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_CountSlaves(intptr_t master);
/* Walks the live connections: 0 gives the first, a handle the one after it; 0 at the end. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Master_IterateSlaves(intptr_t master, intptr_t previous);
/* The slave's address as text ("127.0.0.1"), or 0 for an unknown connection. */
DROVIK_API const char *DROVIK_CALL Drovik_Master_GetSlaveIP(intptr_t master, intptr_t slave);
/* A value of the caller's kept with the connection (0 at start). Set: 1, or 0 when unknown. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Master_GetSlaveXtraData(intptr_t master, intptr_t slave);
DROVIK_API int32_t DROVIK_CALL Drovik_Master_SetSlaveXtraData(intptr_t master, intptr_t slave,
                                                              intptr_t value);
/* Number of the connection's jobs that await their final event; -1 for an unknown connection. */
DROVIK_API int32_t DROVIK_CALL Drovik_Master_CountSlaveJobs(intptr_t master, intptr_t slave);
/*
 * Submits the job jobName with the parameter list (0 for none) to the connection slave. Returns a
 * nonzero job id, which every callback of the job receives as its third argument; or 0 with a text
 * in Drovik_Master_GetLastError (unknown master, slave 0, removed or lost, name empty or too long,
 * unknown list), in which case no callback follows. The list belongs to the library in both cases.
 * callback receives the job's events; replyType (DROVIK_TYPE_*) is the value type the caller
 * expects: the value is delivered with the type the slave's handler returned it in.
 * reserved1 to reserved6: pass 0; deliver: pass 1 (callbacks deliver the outcome; 0 submits the
 * job without any callback). Parameters and name together may take at most 16 MiB.
 */
DROVIK_API intptr_t DROVIK_CALL Drovik_Master_DoJob(
    intptr_t master, const char *jobName, intptr_t slave, intptr_t list, Drovik_Callback callback,
    int32_t replyType, int32_t reserved1, int32_t reserved2, int32_t reserved3, int32_t reserved4,
    int32_t reserved5, int32_t reserved6, int32_t deliver);

/* ---------------------------------------------------------------------------------------------- */
/* Slave side                                                                                     */
/* ---------------------------------------------------------------------------------------------- */

/*
 * A job handler, run on a worker thread. job names the running job for Drovik_Return_* and
 * Drovik_Slave_Job_SendMessage; list holds its parameters (valid until the handler returns);
 * userData is AddJob's. The result is the event that ends the job: DROVIK_EVENT_FINISHED with the
 * value given through a Drovik_Return_* call (none given: FAILED), or LIMIT, DENIED, INVALID or
 * FAILED. Any other result counts as FAILED.
 * A handler that waits for something slow (a disk, another server) returns DROVIK_JOB_PENDING
 * instead, so that it holds no worker meanwhile, and whoever ends the wait calls
 * Drovik_Slave_Job_Finish. Until then the job counts against its master's job limit, takes values
 * and streams messages as a running one, and holds up its master's end and the slave's DeInit.
 */
typedef int32_t(DROVIK_CALL *Drovik_JobHandler)(intptr_t slave, intptr_t master, intptr_t job,
                                                intptr_t list, intptr_t userData);
/* Access check, run on a worker thread before a job's handler: nonzero lets the job run, 0 ends it
 * with DENIED. xtraData is the master's value of SetMasterXtraData. */
typedef int32_t(DROVIK_CALL *Drovik_AccessCheck)(intptr_t slave, intptr_t master,
                                                 const char *jobName, intptr_t xtraData);
/* Called once for each master when its connection has ended and its last running job has returned,
 * with the master's value of SetMasterXtraData; the master handle is invalid afterwards. */
typedef void(DROVIK_CALL *Drovik_XtraDataDeinit)(intptr_t slave, intptr_t master,
                                                 intptr_t xtraData);
/* Called once for each master when its connection is established, on a worker thread, before any
 * of its jobs is access-checked or run and before its end-of-master callback. */
typedef void(DROVIK_CALL *Drovik_MasterConnected)(intptr_t slave, intptr_t master);

/*
 * A new slave listening on bindAddress:port (port 0: a free port), speaking TLS with a key made for
 * it in memory (a master that pins keys sees a new one at every start: give the slave a lasting
 * key with Drovik_Slave_InitTransport). workers: threads of the job pool
 * (0: the number of cores, at least 2), shared out among the slave's network threads (one per
 * core, at most four, never more than workers): each connection is read by one of them, and its
 * jobs run on that one's share of the workers. boundPort, when not 0, receives the port listened
 * on.
 * log may be 0. 0 on failure, with a text in Drovik_Slave_GetLastError(0).
 * Masters are accepted at once; register the jobs (AddJob) before telling anyone the port.
 */
DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_Init(const char *bindAddress, int32_t port,
                                                  Drovik_LogCallback log, int32_t workers,
                                                  int32_t *boundPort);
/*
 * Drovik_Slave_Init with the transport chosen: DROVIK_TRANSPORT_TLS with the PEM certificate and
 * key in certificateFile and keyFile (both "" or 0: a key made in memory), or
 * DROVIK_TRANSPORT_PLAINTEXT (the files are ignored; for benchmarks and comparisons only). flags:
 * DROVIK_TLS_CREATE_IF_MISSING makes a self-signed certificate and its key (ECDSA P-256, files
 * readable by the owner only) when neither file exists yet. 0 on failure, with a text in
 * Drovik_Slave_GetLastError(0).
 */
DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_InitTransport(const char *bindAddress, int32_t port,
                                                           Drovik_LogCallback log, int32_t workers,
                                                           int32_t *boundPort, int32_t transport,
                                                           const char *certificateFile,
                                                           const char *keyFile, int32_t flags);
/* The SHA-256 fingerprint of the slave's certificate as 32 upper-case hex pairs joined by colons
 * (as "openssl x509 -fingerprint -sha256" prints it), or 0 for a plaintext or unknown slave. */
DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetFingerprint(intptr_t slave);
/* Shuts the slave down: stops accepting, sends SHUTDOWN to every master, waits for running jobs,
 * calls the deinit callbacks, releases the slave. Not from a handler. 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_DeInit(intptr_t slave);
/* Text of the slave's last failure or 0; slave 0: the last failure of Drovik_Slave_Init on this
 * thread. */
DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetLastError(intptr_t slave);
/* Registers the job name with its handler and the parameter types it takes, one letter a value:
 * m memory, l long, i integer, f float, d double, q quad, s string ("" or 0: none). A job called
 * with other types or another count ends with INVALID, unknown names with UNKNOWN. Registering a
 * name again replaces it. 1 on success, else 0. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_AddJob(intptr_t slave, const char *jobName,
                                                   Drovik_JobHandler handler,
                                                   const char *parameterTypes, intptr_t userData);
/* Number of registered jobs. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountJobs(intptr_t slave);
/* Number of connected masters. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountMasters(intptr_t slave);
/* Walks the connected masters: 0 gives the first, a handle the one after it; 0 at the end. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_IterateMasters(intptr_t slave, intptr_t previous);
/* Sends KICKED to the master and closes its connection. 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_KickMaster(intptr_t slave, intptr_t master);
/* Most jobs of one master that may run at once; more end with LIMIT. master 0 sets the default for
 * masters that connect later (default 16). limit must be at least 1. 1 on success, else 0. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterJobLimit(intptr_t slave, intptr_t master,
                                                              int32_t limit);
/*
 * Limits of a slave: what one peer may take of its connections, time and memory. Set them before
 * telling anyone the port; a changed limit applies to connections from then on and, where it can,
 * to those already open. Times are in milliseconds, sizes in bytes.
 */
/* Open connections. Default: three quarters of the process's open-file limit, at least 64. */
#define DROVIK_LIMIT_CONNECTIONS 1
/* Connections from one address, IPv6 by /64 (IPv4-mapped IPv6 counts as IPv4). Default 32. */
#define DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS 2
/* Connections not marked trusted; 0, the default, is a quarter of DROVIK_LIMIT_CONNECTIONS. A new
 * connection beyond it closes the oldest untrusted one of the address that has the most. */
#define DROVIK_LIMIT_UNTRUSTED 3
/* Time to send a HELLO after connecting. Default 10 s. */
#define DROVIK_LIMIT_HANDSHAKE_TIME 4
/* Time to finish a frame once its first byte has arrived. Default 30 s. */
#define DROVIK_LIMIT_FRAME_TIME 5
/* Most silence allowed, whatever the master asks for in its HELLO. Default 60 s. */
#define DROVIK_LIMIT_SILENCE_TIME 6
/* An untrusted connection lives at most this long since it was accepted or lost its trust.
 * Default 15 minutes. */
#define DROVIK_LIMIT_UNTRUSTED_TIME 7
/* Unsent bytes beyond which a master is not read until they drain. Default 1 MiB. */
#define DROVIK_LIMIT_OUTPUT_BYTES 8
/* A master stays over DROVIK_LIMIT_OUTPUT_BYTES at most this long, then it is closed. Default
 * 30 s. */
#define DROVIK_LIMIT_OUTPUT_TIME 9
/* The largest frame a master may send, at least 4096. Default and most: 16 MiB. */
#define DROVIK_LIMIT_FRAME_BYTES 10
/* The largest frame an untrusted master may send, at least 4096: what it may do before it is
 * trusted (log in, say) needs little, and a connection that has not proved anything must not
 * hold a large unfinished frame. Default 0: as DROVIK_LIMIT_FRAME_BYTES. */
#define DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES 11

/* Sets a limit (DROVIK_LIMIT_*) to value, at least 1 (DROVIK_LIMIT_UNTRUSTED and
 * DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES: at least 0). 1 on
 * success, 0 for an unknown slave or limit or a value out of range. Any thread. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetLimit(intptr_t slave, int32_t limit, int64_t value);
/* The limit's value in force (DROVIK_LIMIT_UNTRUSTED and DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES: as
 * computed when 0), or -1 when unknown. */
DROVIK_API int64_t DROVIK_CALL Drovik_Slave_GetLimit(intptr_t slave, int32_t limit);
/* Marks a master as trusted (1; for example once it has logged in) or not (0). Every connection
 * starts untrusted. Trusted ones do not count against DROVIK_LIMIT_UNTRUSTED and
 * DROVIK_LIMIT_UNTRUSTED_TIME. 1, or 0 when unknown. Any thread. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterTrusted(intptr_t slave, intptr_t master,
                                                             int32_t trusted);
/* Number of the master's jobs queued or running; -1 when unknown. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_CountMasterJobs(intptr_t slave, intptr_t master);
/* The master's address as text, or 0 when unknown; its port, or 0. */
DROVIK_API const char *DROVIK_CALL Drovik_Slave_GetMasterIP(intptr_t slave, intptr_t master);
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_GetMasterPort(intptr_t slave, intptr_t master);
/* A value of the caller's kept with the master (0 at start). Set: 1, or 0 when unknown. */
DROVIK_API intptr_t DROVIK_CALL Drovik_Slave_GetMasterXtraData(intptr_t slave, intptr_t master);
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterXtraData(intptr_t slave, intptr_t master,
                                                              intptr_t value);
/* Installs the callback for a master's end (0 removes it). 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL
Drovik_Slave_SetMasterXtraDataDeinitCallback(intptr_t slave, Drovik_XtraDataDeinit callback);
/* Installs the callback for a master's connection (0 removes it). Masters that connect from now on
 * get it; those already connected are found with IterateMasters. 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL
Drovik_Slave_SetMasterConnectedCallback(intptr_t slave, Drovik_MasterConnected callback);
/* Installs the access check (0 removes it: every job may run). 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_SetMasterJobAccessCheck(intptr_t slave,
                                                                    Drovik_AccessCheck check);
/* Streams size bytes (copied) to the master of the running job as a STREAM event. 1 when queued,
 * 0 when the job is not running any more or its connection has ended, or the message is larger
 * than 16 MiB less 64 bytes. A master that leaves more than DROVIK_LIMIT_OUTPUT_BYTES unread is not
 * read until it catches up, and is disconnected when it leaves more than 64 MiB unread or stays
 * over that limit longer than DROVIK_LIMIT_OUTPUT_TIME. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_Job_SendMessage(intptr_t job, const void *data,
                                                            int32_t size);
/* Ends a job whose handler returns (or has returned) DROVIK_JOB_PENDING with event: FINISHED with
 * the value given through Drovik_Return_* (none given: FAILED), or LIMIT, DENIED, INVALID or FAILED
 * (anything else: FAILED). From any thread. Called while the handler still runs, it takes effect
 * when the handler returns DROVIK_JOB_PENDING; a handler that returns anything else ends the job
 * with that. 1, or 0 when the job is unknown, has ended, or was finished before. */
DROVIK_API int32_t DROVIK_CALL Drovik_Slave_Job_Finish(intptr_t job, int32_t event);

/* ---------------------------------------------------------------------------------------------- */
/* A job's value, set from its handler (or while it runs). The last call wins. 1, or 0 when the   */
/* job is not running or the value is larger than 16 MiB less 64 bytes.                           */
/* ---------------------------------------------------------------------------------------------- */
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Memory(intptr_t job, const void *data, int32_t size);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Long(intptr_t job, int32_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Integer(intptr_t job, intptr_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Float(intptr_t job, float value);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Double(intptr_t job, double value);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_Quad(intptr_t job, int64_t value);
DROVIK_API int32_t DROVIK_CALL Drovik_Return_String(intptr_t job, const char *text);

/* ---------------------------------------------------------------------------------------------- */
/* Cache: named entries, each holding a copy of its bytes. Every call is atomic; the "current     */
/* entry" that isCached and NextEntry select is per cache, so a caller that reads it with GetMem */
/* and the other getters serialises its own calls.                                                */
/* ---------------------------------------------------------------------------------------------- */

/* A new cache holding at most maxBytes of entry data (0: 16 MiB) and maxEntries entries (0: 4096);
 * when a new entry would exceed either, expired entries and then the oldest entries are evicted.
 * reserved: 0. 0 on failure (a bound below 0). */
DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_New(int32_t maxBytes, int32_t maxEntries,
                                                 int32_t reserved);
/* Changes the bounds (0 keeps a bound), evicting at once what exceeds them. 1, or 0 when unknown
 * or a bound is below 0 (nothing changes then). */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Config(intptr_t cache, int32_t maxBytes,
                                                   int32_t maxEntries);
/* Removes the expired entries; returns how many. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_CleanUp(intptr_t cache);
/* Removes every entry; returns how many. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Flush(intptr_t cache);
/* Releases the cache and its entries. 1, or 0 when unknown. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Free(intptr_t cache);
/* Bytes of entry data held. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetSize(intptr_t cache);
/* Nonzero when an unexpired entry of that name exists; it becomes the current entry. 0 otherwise,
 * and then there is no current entry. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_isCached(intptr_t cache, const char *name);
/* Stores a copy of size bytes under name, replacing an entry of the same name (which then counts as
 * the newest). lifetimeSeconds: 0 for none, else the entry counts as absent that many seconds after
 * it was added. xtraData: a value of the caller's kept with the entry. The new entry is not made
 * current. 1, or 0 when it cannot be stored (unknown cache, size below 0 or above the byte bound,
 * data 0 with a size above 0, no name or "", lifetime below 0); a refused entry changes nothing. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_AddEntry(intptr_t cache, const char *name,
                                                     const void *data, int32_t size,
                                                     int32_t lifetimeSeconds, intptr_t xtraData);
/* Removes the entry if present: 1 when it was (and had not expired), else 0. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_DeleteEntry(intptr_t cache, const char *name);
/* Removes the expired entries and starts a walk over those present now, oldest first; returns their
 * number. NextEntry makes the next of them that is still present current: 1, or 0 at the end (no
 * current entry then). Entries added or replaced during the walk are not visited. */
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_Examine(intptr_t cache);
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_NextEntry(intptr_t cache);
/* The current entry's data (0 for none or for an empty entry), size, age in seconds, xtra value and
 * name; all 0 when there is no current entry. GetMem's address stays valid until the next
 * call that adds, removes (including expired entries) or evicts entries, or frees the cache. */
DROVIK_API const void *DROVIK_CALL Drovik_Cache_GetMem(intptr_t cache);
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetMemSize(intptr_t cache);
DROVIK_API int32_t DROVIK_CALL Drovik_Cache_GetAge(intptr_t cache);
DROVIK_API intptr_t DROVIK_CALL Drovik_Cache_GetXtraData(intptr_t cache);
DROVIK_API const char *DROVIK_CALL Drovik_Cache_GetName(intptr_t cache);

#ifdef __cplusplus
}
#endif

#endif /* DROVIK_H */
