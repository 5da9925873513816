#include "placement/tick.h"

void board_tick(BlurBoard *, float)
{
}
