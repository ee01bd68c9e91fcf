/* otfind: lists the directories and files below a start directory.
 *
 *   otfind <start_directory>                    the start directory only, every file
 *   otfind <start_directory> -only <pattern>    the start directory only, files filtered
 *   otfind <start_directory> -name <pattern>    the whole tree, files filtered
 *
 * Every "*" is removed from pattern, so *.txt filters on the substring .txt. One line per
 * entry in directory order: "path [d]" for a directory, "path [f]" for anything else.
 * Directories whose name begins with '.' are neither listed nor entered; hidden files are
 * listed. Paths are built on the heap, so no depth or length of a tree overruns a buffer.
 *
 * A directory that cannot be opened or read to its end (missing, no permission, a path too
 * long for the system, no descriptor left) is named on standard error; the walk goes on with
 * the rest and the exit status is 1, so a listing is never cut short unnoticed. Exit status 0
 * when everything was listed, 255 (-1) for bad usage.
 */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static char* joinPath(const char* dir, const char* name) {
  size_t dirLen = strlen(dir);
  size_t nameLen = strlen(name);
  char* path = malloc(dirLen + 1 + nameLen + 1);
  if (path == NULL) return NULL;
  memcpy(path, dir, dirLen);
  path[dirLen] = '/';
  memcpy(path + dirLen + 1, name, nameLen + 1);
  return path;
}

/* A symbolic link to a directory is listed as a directory but not entered: following links
 * while recursing could walk a loop of links without end. */
static int isDirectory(const struct dirent* entry, const char* path, int* isLink) {
  struct stat st;
  *isLink = 0;
  if (entry->d_type == DT_DIR) return 1;
  if (entry->d_type == DT_LNK) {
    *isLink = 1;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  }
  if (entry->d_type != DT_UNKNOWN) return 0;
  if (lstat(path, &st) != 0) return 0;
  if (S_ISLNK(st.st_mode)) {
    *isLink = 1;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  }
  return S_ISDIR(st.st_mode);
}

/* Set when any part of the tree could not be listed. */
static int incomplete = 0;

static void report(const char* what, const char* dir, int err) {
  fprintf(stderr, "otfind: cannot %s %s: %s\n", what, dir, strerror(err));
  incomplete = 1;
}

static void walk(const char* dir, const char* pattern, int recursive) {
  DIR* d = opendir(dir);
  struct dirent* entry;
  if (d == NULL) {
    report("open directory", dir, errno);
    return;
  }
  for (;;) {
    int isLink = 0;
    char* path;
    errno = 0;
    entry = readdir(d);
    if (entry == NULL) {
      if (errno != 0) report("read directory", dir, errno);
      break;
    }
    path = joinPath(dir, entry->d_name);
    if (path == NULL) {
      report("list the rest of", dir, ENOMEM);
      break;
    }
    if (isDirectory(entry, path, &isLink)) {
      if (entry->d_name[0] != '.') {
        printf("%s [d]\n", path);
        if (recursive && !isLink) walk(path, pattern, recursive);
      }
    } else if (pattern[0] == '\0' || strstr(entry->d_name, pattern) != NULL) {
      printf("%s [f]\n", path);
    }
    free(path);
  }
  closedir(d);
}

int main(int argc, char** argv) {
  const char* pattern = "";
  char* stripped = NULL;
  int recursive = 0;
  if (argc == 4) {
    size_t n = 0;
    const char* p;
    stripped = malloc(strlen(argv[3]) + 1);
    if (stripped == NULL) return 1;
    for (p = argv[3]; *p != '\0'; p++)
      if (*p != '*') stripped[n++] = *p;
    stripped[n] = '\0';
    pattern = stripped;
    recursive = strcmp(argv[2], "-only") != 0;
  } else if (argc != 2) {
    printf("usage: %s <start_directory> <-name|-only> <pattern>\n", argc > 0 ? argv[0] : "otfind");
    return -1;
  }
  walk(argv[1], pattern, recursive);
  free(stripped);
  if (fflush(stdout) != 0) {
    fprintf(stderr, "otfind: cannot write standard output: %s\n", strerror(errno));
    return 1;
  }
  return incomplete ? 1 : 0;
}
