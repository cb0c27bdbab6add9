#include "ici3d.h"
