#ifndef MVT_OMPT_CALLBACKS_H
#define MVT_OMPT_CALLBACKS_H

namespace ompt_bridge {

// Registers the nine event callbacks through the runtime's ompt_set_callback,
// telling on standard output about each one the runtime will never deliver.
void register_callbacks();

}  // namespace ompt_bridge

#endif
