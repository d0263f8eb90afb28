#ifndef MVT_XML_XML_H
#define MVT_XML_XML_H

// The XML reader: tokenizer, element tree and document.
#include "mvt_xml/xml_document.h"
#include "mvt_xml/xml_element.h"
#include "mvt_xml/xml_tokenizer.h"

#endif
