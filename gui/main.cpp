// marlix: the window comes here. Until then the terminal front end serves.
#include <cstdio>
int main() {
  std::fprintf(stderr, "marlix: the window is not built yet; use marlix-cli\n");
  return 1;
}
