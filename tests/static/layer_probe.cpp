// Built only by the layer-direction checks, each of which expects it not to
// build: a layer that includes the header of a layer above it (PROBE_HEADER)
// cannot see that header.
#include PROBE_HEADER
