# Pello Vita (type 117, class P): sends 11 identification characters, of
# which a host keeps 9; its article records have no bytes 22 to 24 and 35.
number = 05
type = 117
version = 2
identification = "PVT000099  "
plu-count = 65535
articles = articles.txt
display-1 = 0 PELLO VITA
