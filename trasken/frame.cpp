// trasken: the frame envelope.
#include "frame.hpp"
