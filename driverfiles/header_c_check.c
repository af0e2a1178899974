/* The public header must stay plain C: this file only has to compile. */
#include <stddef.h>

#include "vorin/driver.h"

/* sizeof does not evaluate its operand: the names are checked, not linked. */
size_t vorin_driver_header_is_c(void) {
    return sizeof(OtwartoPlik(NULL, "", 0)) + sizeof(PoprawnaLiczbaSzesciobajtowa("", NULL)) +
           sizeof(PoprawnaData("", 0, NULL));
}
