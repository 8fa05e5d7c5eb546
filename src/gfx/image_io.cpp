// image input and output: to be written
