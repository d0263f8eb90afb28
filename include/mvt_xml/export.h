#ifndef MVT_XML_EXPORT_H
#define MVT_XML_EXPORT_H

// The library is built with hidden visibility; this marks what it exports.
#define MVT_API __attribute__((visibility("default")))

#endif
