# Flat-file user database of Strata Server (qz-db-flatfile).
# The server keeps one file per user in users/.
Format=1
