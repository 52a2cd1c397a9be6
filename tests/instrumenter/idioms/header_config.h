/* A unit header that defaults the unit's options, as libraries do. */
#ifndef HEADER_CONFIG_H
#define HEADER_CONFIG_H
#ifndef FILTER_ORDER
#define FILTER_ORDER 1
#endif
#ifndef USE_CLAMP
#define USE_CLAMP
#endif
#endif
