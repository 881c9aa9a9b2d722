#include "app/modCommand.h"

int main(int argc, char **argv) { return modCommand::Main(argc, argv); }
