/* Marks the symbols that form the library's public ABI; everything else is hidden. */
#ifndef KORVANTA_HARDWARE_EXPORT_H
#define KORVANTA_HARDWARE_EXPORT_H

#if defined(__GNUC__)
#define KORVANTA_HARDWARE_EXPORT __attribute__((visibility("default")))
#else
#define KORVANTA_HARDWARE_EXPORT
#endif

#endif
