#include "app/search_control.h"

int main(int argc, char** argv) {
  mf::RunProgram(argc, argv);
}
