// physics: to be written
