// The native model's first frames for a seed and a size, one line each, as the page's
// test hook gives them: from x, from y, to x, to y, colour, clear after.
//   web_frames SEED WIDTH HEIGHT COUNT
#include "saver/animation_model.h"

#include <cstdio>
#include <cstdlib>

int main(int, char **argv) {
  SeedRandom(atoi(argv[1]));
  RandomizeArms();
  SetClientSize(atoi(argv[2]), atoi(argv[3]));
  for (int i = atoi(argv[4]); i > 0; --i) {
    const Frame f = AdvanceFrame();
    printf("%d %d %d %d %u %d\n", f.from.x, f.from.y, f.to.x, f.to.y, f.color, f.clearAfter);
  }
}
