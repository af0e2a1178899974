# The printer for this driver folder, played by vorin-sim --printer printer.profile:
# a Mirto (type 22), version 5, printer number 01, 2000 articles.
number = 01
type = 22
version = 5
identification = "VRN00012345"
plu-count = 2000
display-1 = 0 "VORIN MIRTO            GOTOWA"
