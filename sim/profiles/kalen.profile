# Kalen (type 28, class K), first generation.
number = 01
type = 28
version = 12
variant = C
identification = KAL00004567
plu-count = 500
articles = articles.txt
display-1 = 0 KALEN                          GOTOWA
