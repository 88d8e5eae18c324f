// Entry point of the end-to-end suite. Besides GoogleTest's own flags it
// takes --program=PATH, --launcher=WORDS and --wine-prefix=DIR, which stand
// for the PTMOVE_E2E_* environment variables of the same meaning.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const struct {
    const char* flag;
    const char* variable;
  } flags[] = {
      {"--program=", "PTMOVE_E2E_PROGRAM"},
      {"--launcher=", "PTMOVE_E2E_LAUNCHER"},
      {"--wine-prefix=", "PTMOVE_E2E_WINEPREFIX"},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    for (const auto& f : flags) {
      if (arg.rfind(f.flag, 0) == 0) {
        setenv(f.variable, arg.c_str() + std::string(f.flag).size(), 1);
      }
    }
  }
  return RUN_ALL_TESTS();
}
