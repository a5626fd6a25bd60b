// The program body: start-up, the run over the bases, the normal end.
#include <cstdio>

int main() {
  std::fputs("\r\nquillor v0.1\r\n", stdout);
  return 0;
}
