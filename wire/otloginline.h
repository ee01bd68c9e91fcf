// The login of a display connection, as both ends write and read it.
//
// A server that requires a login sends, before anything else,
//   @login(try,"message")      try 1, 2, ...; message "" at the first try, else why the last
//                              try failed ("wrong user or password")
// and the client answers with one line
//   login("user","password")
// (texts in the protocol's quoting: \" \\ \n). The server then sends
//   @loggedIn("user","role")   the connection is the user's, with that role
// or, after too many failed tries or a client that sends something else,
//   @loginFailed("message")    and closes the connection.
#ifndef OTLOGINLINE_H
#define OTLOGINLINE_H

#include <string>

enum {
  OT_LOGIN_MAX_USER = 63,        // bytes of a user name
  OT_LOGIN_MAX_PASSWORD = 1024,  // bytes of a password
};

// True for a user name the accounts file and the login line accept: 1 to OT_LOGIN_MAX_USER
// characters of letters, digits, '_', '.', '-' and '@'.
bool otLoginUserValid(const char* user);

// The client's answer, with its line feed. "" when user is not valid, or password is empty,
// longer than OT_LOGIN_MAX_PASSWORD or holds a NUL (it cannot: it is a C text) or a carriage
// return.
std::string otFormatLoginLine(const char* user, const char* password);

// Reads a client's answer (len bytes of line, with or without "\n" or "\r\n" at its end; it
// may hold NUL bytes, which are refused). 0 with *user and *password set, or -1 with *why
// saying what is wrong ("not a login line", "bad user name", "empty password", "password too
// long", ...; *user and *password are then left as they were). The line is exactly
// login("user","password"): no blanks, nothing beyond the closing parenthesis. A backslash
// before a character other than " \ n stays as it is, as everywhere in the protocol.
int otParseLoginLine(const char* line, int len, std::string* user, std::string* password,
                     const char** why);

#endif
