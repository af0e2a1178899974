# Trina (type 107, class T), extended type: a blank goes after the third
# identification character on the host's side.
number = 12
type = 107
version = 4
identification = TRI00007777
plu-count = 4000
articles = articles.txt
display-1 = 1 TRINA
