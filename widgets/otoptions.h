// The display client's options record. The client's main program fills it before any widget
// or connection exists (otOptionsDefaults, then otOptionsParseArgs); widgets and the
// connection layer only read it, in the GUI thread.
//
// The ini file (default: otOptionsDefaultFile()), its keys, the command-line options of
// otclient and the defaults:
//
//   [server]
//   host=localhost           -host=NAME, or "host[:port]" as an argument    text, not empty
//   port=5050                -port=PORT                                     1 to 65535
//   connect_timeout=3        -timeout=SEC (below 1: block as the system does) 0 to 3600
//   reconnect_max_ms=8000    -reconnect=MS                                  100 to 3600000
//   stream_timeout=8         -streamtimeout=SEC: a block or stream announced by a command
//                            that brings no byte so long breaks the connection  1 to 3600
//   stream_max_mb=512        -streammax=MB: the most one command's block or stream may
//                            bring; more breaks the connection              1 to 4096
//   mask=                    -mask=NAME: the mask the operator asks the server
//                            for (hxGetInitialMask); empty: none           text
//   [plugin]
//   file=                    -plugin=FILE (empty: plain TCP; tls: the TLS plug-in
//                            installed with the client, tcputil.h)          text
//   dir=$XDG_CONFIG_HOME/otclient/plugins (or ~/.config/otclient/plugins)
//                            -plugindir=DIR                                 text
//   [tls]                    (read by a TLS plug-in, -plugin=tls)
//   ca=                      -tlsca=FILE: the server's chain and its host name or address
//                            are verified against this CA file (PEM)        text
//   fingerprint=             -tlsfingerprint=HEX: the SHA-256 of the server's certificate
//                            (its DER), 64 hex digits, colons and case ignored    text
//                            Neither given: a TLS plug-in refuses every connection; both:
//                            both must hold.
//   allow_tls12=0            -tls12[=0|1]: TLS 1.2 as well as 1.3 (never below)  0 or 1
//   [login]                  (the answer to a server's login request, a kiosk's)
//   user=                    -user=NAME: at the first request this user logs in without
//                            the login dialog when the password is set too; else the
//                            dialog offers it                               text, 63 bytes
//   password=                the ini file only (a command line is seen by every user);
//                            a file that holds one should be readable by its owner only
//                                                                           text
//   [display]
//   zoom=100                 -zoom=PERCENT (0 or less: 100)                 up to 1000
//   use_webkit_for_svg=0     -webkit[=0|1]                                  0 or 1
//   print_pdf=               -printpdf=FILE (empty: the print dialog)       text
//   screenshot_dir=          -shots=DIR (empty: none): the window as PNG    text
//   screenshot_seconds=5     -shotevery=SEC, the time between two of them  1 to 86400
//   [files]
//   download_dir=$XDG_DATA_HOME/otclient/downloads (or ~/.local/share/otclient/downloads)
//                            -downloads=DIR: where the server's files go    text
//   download_max_mb=256      -downloadmax=MB, the folder's whole size       1 to 65536
//   [commands]
//   allow=                   -allowcommands=LIST: the command lines a server may start
//                            on this machine (hxClientCommand), separated by ';', each
//                            matched word for word; empty: none may        text
//   [trace]
//   debug=0                  -debug[=LEVEL]                                 0 to 9
//   nettrace=0               -nettrace[=0|1]                                0 or 1
//
// Texts hold at most 1023 bytes. Values take the forms "-name=value" and "-name value" (the
// flags -debug, -nettrace, -webkit and -tls12 only the first). -ini=FILE names the ini file, -h
// prints the list.
#ifndef OTOPTIONS_H
#define OTOPTIONS_H

struct OPT {
  int zoom;                   // percent, 1 to 1000; the drawing widgets start at zoom/100
  int use_webkit_for_svg;     // 1: SVG through the web engine, 0: the plain SVG renderer
  int debug;                  // non-zero: widgets and connection layer print trace lines
  int nettrace;               // non-zero: every line sent and received is printed
  int connect_timeout;        // seconds; below 1 the connect blocks as long as the system does
  char hxc_com_plugin[1024];  // communication plug-in file name; "" for plain TCP
  char plugin_dir[1024];      // directory of plug-in names that hold no '/' or '\\'
  // Client program settings.
  char host[1024];            // display server to connect to
  int port;                   // its port
  int reconnect_max_ms;       // longest wait between reconnect attempts
  int stream_timeout;         // seconds a command's block or stream may bring no byte
  int stream_max_mb;          // MiB one command's block or stream may bring at most
  char print_pdf[1024];       // non-empty: print() writes this PDF file instead of a dialog
  char screenshot_dir[1024];  // non-empty: the window is saved there as PNG files
  int screenshot_seconds;     // every so many seconds
  char ini_file[1024];        // the ini file that was read ("" when none)
  // Every file a server sends or names lives in this folder (made 0700 when missing); it
  // must not be the working directory, so that nothing the server sends lands beside the
  // client's own files.
  char download_dir[1024];
  int download_max_mb;      // the downloads folder's total size, in MiB
  char initial_mask[1024];  // the mask asked for at the start; "" for none
  // The only command lines a server may have the client start, separated by ';'. Empty (the
  // default): a server can start nothing on the operator's machine.
  char client_commands[1024];
  // What a TLS plug-in verifies the server by (the CA file, the pinned fingerprint) and
  // whether it may speak TLS 1.2.
  char tls_ca[1024];
  char tls_fingerprint[1024];
  int tls_allow12;
  // A kiosk's login: the user (also offered by the login dialog) and its password.
  char login_user[1024];
  char login_password[1024];
};

extern OPT opt;

// Sets every field to its default (the list above).
void otOptionsDefaults(OPT* o);
// Reads the ini file path into o; unknown sections and keys and refused values are reported
// on standard output and skipped, the other values are taken. 0, or -1 when the file cannot
// be read (a message is printed, o is unchanged).
int otOptionsLoad(OPT* o, const char* path);
// The default ini file: "$XDG_CONFIG_HOME/otclient/otclient.ini" or
// "$HOME/.config/otclient/otclient.ini"; "" when neither variable is set. A static buffer.
const char* otOptionsDefaultFile();
// Reads the ini file (-ini=FILE, else the default file when it exists), then applies the
// other command-line options over it. Returns 0; 1 when help was asked (-h, -help, --help:
// the list is printed); -1 on an unknown option, a refused value or an unreadable -ini file
// (a message is printed; o may then hold some of the values).
int otOptionsParseArgs(OPT* o, int argc, char** argv);

#endif
