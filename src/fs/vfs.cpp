#include "fs/vfs.h"
