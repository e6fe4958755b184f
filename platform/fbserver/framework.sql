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
