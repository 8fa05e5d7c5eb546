// terrain: to be written
