// Process entry: one process serves one client on descriptors 0 and 1.
#include "session/startup.h"

int main(int argc, char** argv, char** envp) { return session::run(argc, argv, envp); }
