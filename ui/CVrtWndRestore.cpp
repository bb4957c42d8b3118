#include "ui/CVrtWndRestore.h"
