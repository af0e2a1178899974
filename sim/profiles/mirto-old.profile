# An older Mirto (type 22, version 5): it answers 0xFE with NAK, so a host
# asks 0xFF for the type and 0x5B for the version. Model class M.
number = 03
type = 22
version = 5
type-query = old
identification = MIR00001234
plu-count = 1000
articles = articles.txt
display-1 = 1 MIRTO READY
