#include "midi/InterfaceBaseClass.h"

// Defined out of line so that the class has one home for its vtable.
InterfaceBaseClass::~InterfaceBaseClass() = default;
