# Writes the example database that tools/run-example maintains: a small
# file of recognisable content, so that its dated copy can be compared.
# Called with -DOUTPUT=<path>.
string(REPEAT "example office records\n" 200 body)
file(WRITE "${OUTPUT}" "muTessel example database\n${body}")
