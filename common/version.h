// The program's version, defined once: the About box shows QUILLON_VERSION_TEXT (the text
// table's entry 1), and scripts/package.sh names the release after the three numbers
// ("1.3.12"), reading them from this file.
#pragma once

#define QUILLON_VERSION_MAJOR 1
#define QUILLON_VERSION_MINOR 3
#define QUILLON_VERSION_BUILD 12
#define QUILLON_VERSION_DATE "Feb  2 2021"

#define QUILLON_VERSION_STR_(x) #x
#define QUILLON_VERSION_STR(x) QUILLON_VERSION_STR_(x)
// "v1_3 (build 12) Feb  2 2021"
#define QUILLON_VERSION_TEXT                                                             \
    "v" QUILLON_VERSION_STR(QUILLON_VERSION_MAJOR) "_" QUILLON_VERSION_STR(QUILLON_VERSION_MINOR) \
    " (build " QUILLON_VERSION_STR(QUILLON_VERSION_BUILD) ") " QUILLON_VERSION_DATE
