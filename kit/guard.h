// Whether a run may start on this machine: before it writes anything, it looks, and
// refuses with one line where it would touch what is not its own or could not do its work.
#ifndef TESSARUNE_KIT_GUARD_H
#define TESSARUNE_KIT_GUARD_H

#include <string>

// Why the checks must not run on this machine, or "" when they may: settings not in their
// form, no administrator's rights, another run under way, a scratch folder that is not
// empty, what an earlier run stopped part way left, a Quendal the tool would find,
// Quendal's folder, a drive that does not show the scratch folder, or a run folder that
// cannot be made new. Claims the run folder.
std::string ReasonToRefuse();

#endif
