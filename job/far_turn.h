// Which far copies a night reads back again, besides those it sends: each
// copy there on one night in seven, so that a copy that a share or a disk
// changed at rest is found within a week, not on the day of a restore.
#pragma once

#include "job/dated_copies.h"

namespace job {

// Whether `copy` is read back on the night whose own copy is `night`. A
// copy's night of the week comes from its date, never from file times, and
// moves by one from one week's copy to the next, so that the weekly and
// monthly copies, all on a Sunday or at a month's end, spread over the week.
bool readBackTonight(const DatedCopy& copy, const DatedCopy& night);

}  // namespace job
