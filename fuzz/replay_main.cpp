// Runs a fuzz target over every file of the given directories (or the given files),
// so that the seed corpus is replayed by an ordinary test and any build.
#include <dirent.h>
#include <sys/stat.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int runFile(const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) {
    std::fprintf(stderr, "replay: cannot open %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> data;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), fp)) > 0)
    data.insert(data.end(), chunk, chunk + n);
  std::fclose(fp);
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return 0;
}

int main(int argc, char** argv) {
  int files = 0, errors = 0;
  for (int i = 1; i < argc; i++) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      std::fprintf(stderr, "replay: no such file or directory %s\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
      errors += runFile(argv[i]);
      files++;
      continue;
    }
    DIR* dir = opendir(argv[i]);
    if (!dir) return 1;
    while (struct dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      errors += runFile(std::string(argv[i]) + "/" + e->d_name);
      files++;
    }
    closedir(dir);
  }
  std::printf("replayed %d inputs\n", files);
  // An empty corpus means the seeds were lost: that is a failure, not a pass.
  return (errors || files == 0) ? 1 : 0;
}
