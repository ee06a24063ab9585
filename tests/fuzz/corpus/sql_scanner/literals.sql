begin :x := ':y' || /* :z */ 1; -- :w
end;