// Checks one file as a night checks its copy, for tools/bench to time
// against a plain read: check_file PATH prints nothing and exits 0 when the
// file is a sound Access database, else prints why and exits 1.
#include <iostream>

#include "job/sound_copy.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: check_file PATH\n";
    return 2;
  }
  const std::string damage = job::whyNotSound(*platform::systemServices(), argv[1]);
  if (damage.empty()) return 0;
  std::cout << damage << "\n";
  return 1;
}
