#include "render/draw.h"

void board_draw(BlurBoard *)
{
}
