/* The one place the module's version is written; the build, the version
 * resource and everything packaged from it take it from here. */
#ifndef HALVO_VERSION_H
#define HALVO_VERSION_H

#define HALVO_VERSION_MAJOR 1
#define HALVO_VERSION_MINOR 0
#define HALVO_VERSION_PATCH 0
#define HALVO_VERSION_BUILD 5

#define HALVO_VERSION_STRINGIFY2(x) #x
#define HALVO_VERSION_STRINGIFY(x) HALVO_VERSION_STRINGIFY2(x)
/* "1, 0, 0, 5", the form the version resource's strings use */
#define HALVO_VERSION_TEXT                                                            \
  HALVO_VERSION_STRINGIFY(HALVO_VERSION_MAJOR) ", " HALVO_VERSION_STRINGIFY(HALVO_VERSION_MINOR) ", " \
  HALVO_VERSION_STRINGIFY(HALVO_VERSION_PATCH) ", " HALVO_VERSION_STRINGIFY(HALVO_VERSION_BUILD)

#endif
