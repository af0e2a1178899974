# Sovel (type 102, class S), extended type: version 1 variant A sends a
# 12-character identification. 2,000 articles.
number = 07
type = 102
version = 1
variant = A
identification = SOV000012345
plu-count = 2000
articles = articles.txt
# Status bytes of 0x9B, 0x94, 0x95, 0x96 and the two of 0x66: a ready printer.
status-9b = 0x01
status-94 = 0x00
status-95 = 0x00
status-96 = 0x40
status-66 = 0 0
display-1 = 0 SOVEL 102                     SUMA 12.50
display-2 = 1 READY
