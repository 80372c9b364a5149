// trasken: the length-prefixed frame envelope (header text plus payload bytes).
#pragma once
