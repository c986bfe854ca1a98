/* The boundary between the host kit and its PostgreSQL part, a module ("rvkclient-pg") that the
   kit loads on the first use of a shared history, so that libpq and all it brings (TLS, Kerberos,
   LDAP: two dozen shared objects, bound at once) stay out of the start-up of a host that never
   shares. The module is libpq with limits: connections and queries that give up at their
   deadlines. Everything else (the schema, the history, copies, locks, the operations) is the
   kit's.

   Only plain C crosses: no C++ type, no exception. Texts are UTF-8; a text the module makes for
   the kit (a failure) is released with its freeText(). Each failure is the server's or libpq's
   own words, as raw text of one or several lines, which the kit escapes before it shows them.
   A table of another version than the kit's is refused. */
#ifndef RVK_CLIENT_SERVER_MODULE_H
#define RVK_CLIENT_SERVER_MODULE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RvkPgConnection RvkPgConnection;
typedef struct RvkPgResult RvkPgResult;

/* Gets each notice or warning of the server: its severity and its message. */
typedef void (*RvkPgNotice)(void* context, const char* severity, const char* message);
/* Gets each keyword that a connection string sets. */
typedef void (*RvkPgKeyword)(void* context, const char* keyword);

/* How long the module waits, in seconds: to connect, for one query (a little longer than the
   server's own statement_timeout, so that the server's clearer message comes first), and the
   server's waits that the kit sets for each session. */
enum {
    RVK_PG_CONNECT_SECONDS = 10,
    RVK_PG_STATEMENT_SECONDS = 60,
    RVK_PG_QUERY_SECONDS = RVK_PG_STATEMENT_SECONDS + 15,
    RVK_PG_LOCK_SECONDS = 10,
    RVK_PG_IDLE_IN_TRANSACTION_SECONDS = 60
};

/* Changes whenever the table does. */
enum { RVK_PG_MODULE_VERSION = 1 };

typedef struct RvkPgModule {
    int version;
    /* Parses `conninfo` (a connection string or URI), calling `each` for every keyword it sets.
       0 on success; otherwise 1, with why in *failure. */
    int (*parseConnInfo)(const char* conninfo, RvkPgKeyword each, void* context, char** failure);
    /* Connects, giving up after RVK_PG_CONNECT_SECONDS, and, when `seconds` is above 0, giving up
       on the connection and on every query after that many seconds in all. Notices go to
       `notice` with `context`, which must outlive the connection. Null on failure, with why in
       *failure. */
    RvkPgConnection* (*connect)(const char* conninfo, int seconds, RvkPgNotice notice,
                                void* context, char** failure);
    /* Closes the connection; null is no error. */
    void (*finish)(RvkPgConnection* connection);
    /* Runs `sql` with `count` parameters ($1, $2, ...): each a value of `lengths[i]` bytes, sent
       as text or, where `binary[i]`, as bytes; a null value is SQL NULL. `binaryResult` asks for
       the columns as bytes. 0 with *result on success (released with clear()); otherwise 1,
       with why in *failure. A query the server does not answer in time gives the connection up:
       every later query fails at once. */
    int (*query)(RvkPgConnection* connection, const char* sql, int count,
                 const char* const* values, const int* lengths, const int* binary,
                 int binaryResult, RvkPgResult** result, char** failure);
    /* Runs statements without parameters (several, separated by ';'). 0, or 1 with *failure. */
    int (*run)(RvkPgConnection* connection, const char* sql, char** failure);
    /* Abandons the open transaction; harmless without one. */
    void (*rollback)(RvkPgConnection* connection);
    int (*rows)(const RvkPgResult* result);
    int (*isNull)(const RvkPgResult* result, int row, int column);
    /* A value's bytes (valid until clear()) and their number. */
    const char* (*value)(const RvkPgResult* result, int row, int column, int* length);
    void (*clear)(RvkPgResult* result);
    void (*freeText)(char* text);
} RvkPgModule;

/* The module's one exported function. */
typedef const RvkPgModule* (*RvkPgModuleEntry)(void);
#define RVK_PG_MODULE_ENTRY "rvkPgModule"

#ifdef __cplusplus
}
#endif

#endif
