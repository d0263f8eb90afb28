// Replaced by the XML reader.
