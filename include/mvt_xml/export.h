#ifndef MVT_XML_EXPORT_H
#define MVT_XML_EXPORT_H

// The library is built with hidden visibility; this marks what it exports.
#define MVT_API __attribute__((visibility("default")))
// Keeps a private member of an exported class out of the interface.
#define MVT_LOCAL __attribute__((visibility("hidden")))

#endif
