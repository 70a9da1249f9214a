// A trivial C++ program: the yardstick for the start-up of ours. It loads
// the C++ run-time as every C++ program does, and does nothing.
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  return args.empty() ? 1 : 0;
}
