-- The objects every database of the framework has, whatever the application
-- adds: the generator all relations take their identities from, the users
-- (the owner number in SYS$STATE points here) and the list kinds.
-- Plain statements ended by ";", runnable by isql or the test helper.

CREATE GENERATOR MAIN_GEN;

CREATE TABLE SYS_USER (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$STATE INTEGER DEFAULT 0 NOT NULL,
  NAME VARCHAR(60) CHARACTER SET WIN1251);

CREATE TABLE SYS$LIST_KIND (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(60) CHARACTER SET WIN1251);

-- The user-session protocol: record locks, change events and audit. The
-- functions live in the UDR module fbsession (platform/fbserver), which the
-- engine must find (platform/fbserver/make-root). Sessions, locks and events
-- are kept by the process that runs the engine, so every attachment must be
-- served by one process (a SuperServer or SuperClassic server); audit goes to
-- SYS$AUDIT.
CREATE SEQUENCE SYS$AUDIT_GEN;

CREATE TABLE SYS$AUDIT (
  AUDIT_ID BIGINT NOT NULL PRIMARY KEY,
  AUDIT_TIME TIMESTAMP NOT NULL,
  SESSION_ID INTEGER NOT NULL,
  USER_ID INTEGER,
  USER_NAME VARCHAR(63) CHARACTER SET UTF8,
  MESSAGE VARCHAR(8191) CHARACTER SET UTF8);

-- A new session of the attachment that calls it, for the application's user
-- USER_ID; returns its handle (random, above 0), which only the caller's
-- database user can use. Raises when another engine process keeps the
-- database's sessions. The session ends with the attachment.
CREATE FUNCTION f_RegisterUserSession (USER_ID INTEGER) RETURNS INTEGER
  EXTERNAL NAME 'fbsession!register_session' ENGINE UDR;

CREATE FUNCTION f_UnregisterUserSession (HS INTEGER) RETURNS INTEGER
  EXTERNAL NAME 'fbsession!unregister_session' ENGINE UDR;

-- 0 locked for the session, -1100 held by another live session, -400
-- unknown session, -200 no record, -100 out of memory.
CREATE FUNCTION f_LockRecord (HS INTEGER, RN CHAR(8) CHARACTER SET OCTETS) RETURNS INTEGER
  EXTERNAL NAME 'fbsession!lock_record' ENGINE UDR;

CREATE FUNCTION F_UNLOCKRECORD (HS INTEGER, RN CHAR(8) CHARACTER SET OCTETS) RETURNS INTEGER
  EXTERNAL NAME 'fbsession!unlock_record' ENGINE UDR;

CREATE FUNCTION F_GetLockInfo (HS INTEGER, RN CHAR(8) CHARACTER SET OCTETS)
  RETURNS VARCHAR(255) CHARACTER SET UTF8
  EXTERNAL NAME 'fbsession!lock_info' ENGINE UDR;

-- Queues "sender;param;kind;operation;record hex;table" for every other session.
CREATE FUNCTION F_PostEvent (HS INTEGER, EVENT_PARAM INTEGER, EVENT_KIND INTEGER, OPERATION INTEGER,
  TABLE_NAME VARCHAR(63) CHARACTER SET UTF8, RECORD_HEX VARCHAR(16) CHARACTER SET UTF8)
  RETURNS INTEGER
  EXTERNAL NAME 'fbsession!post_event' ENGINE UDR;

-- The session's oldest queued events, one line each, as many as fit (8000
-- characters); taken off the queue once handed over. Called until empty.
CREATE FUNCTION F_GetEvents (HS INTEGER) RETURNS VARCHAR(8000) CHARACTER SET UTF8
  EXTERNAL NAME 'fbsession!get_events' ENGINE UDR;

CREATE FUNCTION F_WRITEAUDITMSG (HS INTEGER, MESSAGE VARCHAR(8191) CHARACTER SET UTF8) RETURNS INTEGER
  EXTERNAL NAME 'fbsession!write_audit' ENGINE UDR;

-- Every user of the application calls the session functions; they answer a
-- session only to the database user that registered it. The audit function
-- writes SYS$AUDIT with its caller's rights.
GRANT EXECUTE ON FUNCTION f_RegisterUserSession TO PUBLIC;
GRANT EXECUTE ON FUNCTION f_UnregisterUserSession TO PUBLIC;
GRANT EXECUTE ON FUNCTION f_LockRecord TO PUBLIC;
GRANT EXECUTE ON FUNCTION F_UNLOCKRECORD TO PUBLIC;
GRANT EXECUTE ON FUNCTION F_GetLockInfo TO PUBLIC;
GRANT EXECUTE ON FUNCTION F_PostEvent TO PUBLIC;
GRANT EXECUTE ON FUNCTION F_GetEvents TO PUBLIC;
GRANT EXECUTE ON FUNCTION F_WRITEAUDITMSG TO PUBLIC;
