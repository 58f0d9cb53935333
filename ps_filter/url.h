// Device URI helpers: percent-decoding and the resolution of a CUPS device URI to a host.
#pragma once

// Decodes %XX escapes in place. A "%" too close to the end of the text is copied as it is.
void urldecode(char* text);
// '0'-'9', 'a'-'f', 'A'-'F' give their value; anything else -1.
int hex2dec(char c);
