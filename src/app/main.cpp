#include "app/PTern.h"

int main(int argc, char** argv) { return tern::app::PTern(argc, argv); }
