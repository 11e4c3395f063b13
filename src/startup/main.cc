// Process entry: one process serves one client on descriptors 0 and 1.
#include "startup/startup.h"

int main(int argc, char** argv, char** envp) { return startup::run(argc, argv, envp); }
