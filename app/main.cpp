#include "app/application.h"

int main(int argc, char** argv) {
  return vekta::RunApplication(argc, argv);
}
