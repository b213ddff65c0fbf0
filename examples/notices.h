/* What the command line adds to the library's messages, by the rules the Python binding follows
 * too: the likely cause of a failure (a hint), and warnings about a job that will not do what its
 * names suggest (an output name without a format's extension, a photo stored rotated). */
#ifndef HOST_NOTICES_H
#define HOST_NOTICES_H

#include <stddef.h>

/* The likely cause of the library's failure `message` for a job on these paths (NULL for
 * standard input or output), written into `hint`; 0 when the paths show none. */
int host_hint(const char *message, const char *in, const char *out, char *hint, size_t size);

/* Whether the output's name ends in a format's extension (else it gets PNG); the warning text
 * otherwise, without a prefix, into `warning`. */
int host_extension_warning(const char *out, char *warning, size_t size);

/* The warning for a JPEG stored rotated (an EXIF orientation other than 1) into `warning`; 0 for
 * any other file. Reads the markers' headers up to the picture and the Exif segment alone. */
int host_orientation_warning(const char *in, char *warning, size_t size);

#endif
