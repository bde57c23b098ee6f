#include "demo_shop.h"
