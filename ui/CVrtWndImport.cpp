#include "ui/CVrtWndImport.h"
