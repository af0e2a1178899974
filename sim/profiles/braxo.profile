# Braxo of the special pair (type 111): not an extended type, first
# generation, 11 characters; article group up to 9. Out of paper here:
# status 0x95 bit 2 set.
number = 09
type = 111
version = 3
identification = BRX00000111
plu-count = 300
articles = articles.txt
status-95 = 0x04
display-1 = 1 BRAK PAPIERU
