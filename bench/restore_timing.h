#pragma once

// Times a full restore of 1,000 icons against the bare cost of the list-view messages and
// registry reads that such a restore cannot avoid, and prints the ratio.
void RunRestoreTiming();
