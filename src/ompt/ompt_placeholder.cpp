// Replaced by the OpenMP tool bridge.
