#include "core/game/game.h"

int main(int argc, char** argv) { return ks::game_main(argc, argv); }
